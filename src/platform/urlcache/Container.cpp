#include "platform/urlcache/Container.h"

#include "platform/urlcache/UrlCacheFile.h"
#include "platform/urlcache/WebCache.h"

namespace platform::urlcache {

std::unique_ptr<Container> OpenContainer(const ContainerLocation& location) {
    switch (location.format) {
    case ContainerFormat::IndexDat:
        if (auto file = UrlCacheFile::Load(location.file))
            return std::make_unique<IndexDatContainer>(std::move(*file), location);
        return nullptr;
    case ContainerFormat::WebCache:
        return OpenWebCacheContainer(location);
    }
    return nullptr;
}

} // namespace platform::urlcache
