// Salted password hashes (Argon2id through libsodium); clear passwords are never stored.
#pragma once

#include <string>

enum class EHashCost {
    Interactive,  // for real accounts: about a tenth of a second and 64 MiB per hash
    Minimal,      // for tests and benchmarks that create thousands of accounts
};

// The self-describing hash text (algorithm, cost and salt inside); false when hashing failed.
bool HashPassword(const std::string& password, EHashCost cost, std::string& hash);
// Checks a password against a stored hash at the cost the hash was made with.
bool VerifyPassword(const std::string& hash, const std::string& password);
