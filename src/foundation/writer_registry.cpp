// The process-wide registry of files open for writing.
#include "foundation/writer_registry.h"

namespace vantrel {

WriterRegistry& WriterRegistry::instance()
{
    static WriterRegistry registry;
    return registry;
}

bool WriterRegistry::claim(FileIdentity file)
{
    LockGuard guard(lock_);
    return open_.insert(file).second;
}

void WriterRegistry::release(FileIdentity file)
{
    LockGuard guard(lock_);
    open_.erase(file);
}

} // namespace vantrel
