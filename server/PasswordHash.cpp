#include "server/PasswordHash.h"

#include <sodium.h>

namespace {

bool EnsureSodium() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

bool HashPassword(const std::string& password, EHashCost cost, std::string& hash) {
    if (!EnsureSodium())
        return false;
    char out[crypto_pwhash_STRBYTES];
    unsigned long long ops =
        cost == EHashCost::Interactive ? crypto_pwhash_OPSLIMIT_INTERACTIVE : crypto_pwhash_OPSLIMIT_MIN;
    size_t mem =
        cost == EHashCost::Interactive ? crypto_pwhash_MEMLIMIT_INTERACTIVE : crypto_pwhash_MEMLIMIT_MIN;
    if (crypto_pwhash_str(out, password.data(), password.size(), ops, mem) != 0)
        return false;
    hash = out;
    return true;
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
    if (!EnsureSodium() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}
