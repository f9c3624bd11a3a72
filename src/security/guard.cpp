#include "security/guard.h"

namespace security {

void Guard::Configure(const Limits& limits) {
  limits_ = limits;
  auth_.Configure(limits.auth);
  pending_.Configure(limits.max_pending_per_address, limits.max_pending_connections);
}

}  // namespace security
