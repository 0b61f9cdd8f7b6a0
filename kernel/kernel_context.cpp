// The KernelContext's ownership: the service record holds it as private data
// and releases it, with its register map and TLS offset cache, through the
// release function set here.
#include "kernel/kernel_context.h"

#include <memory>

namespace {

void ReleaseKernelContext(void* record) {
  // Taking the record back into its owner destroys it with all it owns.
  std::unique_ptr<KernelContext> owned(static_cast<KernelContext*>(record));
}

}  // namespace

OsaPrivateData KernelContextAdopt(std::unique_ptr<KernelContext> kernel) {
  return OsaPrivateData(kernel.release(), OsaPrivateDeleter{&ReleaseKernelContext});
}
