// The KernelContext's ownership: the service record, and every request being
// served on it, share the record; the last of them destroys it with its
// register map and TLS offset cache.
#include "kernel/kernel_context.h"

#include <memory>

OsaPrivateData KernelContextAdopt(std::unique_ptr<KernelContext> kernel) {
  return std::shared_ptr<KernelContext>(std::move(kernel));
}
