#include "NetDbCache.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sys::winsock::detail {

namespace {

// A deep copy of an entry's texts, so that the entry outlives libc's buffer.
struct KeptNames {
    std::string name;
    std::vector<std::string> aliasTexts;
    std::vector<char*> aliases;

    void Keep(const char* entryName, char* const* entryAliases) {
        name = entryName ? entryName : "";
        for (char* const* a = entryAliases; a && *a; ++a)
            aliasTexts.emplace_back(*a);
        for (auto& text : aliasTexts)
            aliases.push_back(text.data());
        aliases.push_back(nullptr);
    }
};

struct KeptService {
    KeptNames names;
    std::string proto;
    servent entry{};
};

struct KeptProtocol {
    KeptNames names;
    protoent entry{};
};

// Map nodes never move, so the entries handed out stay where they are.
struct Cache {
    std::mutex mutex;
    std::map<std::string, KeptService> services;
    std::map<std::string, KeptProtocol> protocols;
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // lives as long as any thread may look up
    return *cache;
}

}  // namespace

const servent* CachedService(const char* name, const char* proto) {
    // "*" cannot be a protocol name, so it stands for "any protocol" in the key.
    std::string key = std::string(name) + '/' + (proto ? proto : "*");
    auto& cache = TheCache();
    std::lock_guard lock(cache.mutex);
    if (auto it = cache.services.find(key); it != cache.services.end())
        return &it->second.entry;
    servent entry;
    char buffer[1024];
    servent* found = nullptr;
    if (::getservbyname_r(name, proto, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return nullptr;
    KeptService& kept = cache.services[key];
    kept.names.Keep(found->s_name, found->s_aliases);
    kept.proto = found->s_proto ? found->s_proto : "";
    kept.entry.s_name = kept.names.name.data();
    kept.entry.s_aliases = kept.names.aliases.data();
    kept.entry.s_port = found->s_port;
    kept.entry.s_proto = kept.proto.data();
    return &kept.entry;
}

const protoent* CachedProtocol(const char* name) {
    auto& cache = TheCache();
    std::lock_guard lock(cache.mutex);
    if (auto it = cache.protocols.find(name); it != cache.protocols.end())
        return &it->second.entry;
    protoent entry;
    char buffer[1024];
    protoent* found = nullptr;
    if (::getprotobyname_r(name, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return nullptr;
    KeptProtocol& kept = cache.protocols[name];
    kept.names.Keep(found->p_name, found->p_aliases);
    kept.entry.p_name = kept.names.name.data();
    kept.entry.p_aliases = kept.names.aliases.data();
    kept.entry.p_proto = found->p_proto;
    return &kept.entry;
}

}  // namespace sys::winsock::detail
