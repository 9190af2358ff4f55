#include "ModuleLoader.h"
#include "platform/AsciiCase.h"

#include "CodePage.h"
#include "LastError.h"
#include "platform/urlcache/UrlCacheApi.h"

#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Module {
    platform::ModuleExports exports;
};

// ASCII only: under a locale with other case rules (Turkish "I") a module must still be found.
std::string foldName(const std::string& name) {
    return platform::AsciiLowerCase(name);
}

struct Registry {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<Module>> byName;
    // Modules are never freed while the process runs, so a handle stays valid even after the
    // module is replaced or removed; it then resolves against the exports it was loaded with.
    // One entry per registration that was replaced, not per load.
    std::vector<std::shared_ptr<Module>> retired;

    void retire(const std::string& name) {
        auto found = byName.find(name);
        if (found == byName.end())
            return;
        retired.push_back(std::move(found->second));
        byName.erase(found);
    }

    Registry() {
        byName["wininet.dll"] = std::make_shared<Module>(Module{platform::UrlCacheModuleExports()});
    }
};

Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace

namespace win {

HMODULE LoadLibraryA(LPCSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    auto found = reg.byName.find(foldName(name));
    if (found == reg.byName.end()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(found->second.get());
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (module == nullptr || name == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    const auto* mod = reinterpret_cast<const Module*>(module);
    auto found = mod->exports.find(name);
    if (found == mod->exports.end() || found->second == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return found->second;
}

} // namespace win

namespace platform {

void RegisterModule(const std::string& name, ModuleExports exports) {
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    reg.retire(foldName(name));
    reg.byName[foldName(name)] = std::make_shared<Module>(Module{std::move(exports)});
}

void UnregisterModule(const std::string& name) {
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    reg.retire(foldName(name));
}

ModuleExports ModuleExportsOf(const std::string& name) {
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    auto found = reg.byName.find(foldName(name));
    return found == reg.byName.end() ? ModuleExports{} : found->second->exports;
}

} // namespace platform
