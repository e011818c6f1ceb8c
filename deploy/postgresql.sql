-- The accounts database that every node shares. As the postgres user on the database host:
--   sudo -u postgres psql -f postgresql.sql
-- then set the role's password (\password velaphon in psql), and in /etc/postgresql/15/main/:
--   postgresql.conf: listen_addresses = 'localhost,10.0.0.5'
--   pg_hba.conf:     host velaphon velaphon 10.0.0.0/24 scram-sha-256
-- restart PostgreSQL, and create the tables once from any node:
--   velaphond migrate --db 'postgresql://velaphon@10.0.0.5/velaphon?passfile=/etc/velaphon/pgpass'
-- (again after each upgrade of velaphond, before the nodes are started again). Accounts are added from
-- any node with velaphond user add --db '...' while the nodes run.
-- Each node keeps two connections, one for the protocol and one for the pages; the user commands take
-- one each while they run.
CREATE ROLE velaphon LOGIN;
CREATE DATABASE velaphon OWNER velaphon ENCODING 'UTF8' TEMPLATE template0;
