#include "platform/default_registry.h"

#ifdef _WIN32
#include "platform/win32_registry.h"
#else
#include "platform/file_store.h"
#endif

namespace kelvaston::platform {

RegistryApi& DefaultRegistry() {
#ifdef _WIN32
    static Win32Registry registry;
#else
    static FileStoreRegistry registry(FileStoreOptions{FileStoreRegistry::DefaultFolder(),
                                                       FileStoreRegistry::HostComputerName()});
#endif
    return registry;
}

}  // namespace kelvaston::platform
