// Starts the operator interface beside a started server and ties its end to the server's
// shutdown. The only place that knows both the server object and the operator interface.
#pragma once

#include <memory>

#include "core/servermain.h"
#include "operator/operator_server.h"

namespace oper {

// What the operator interface is given of `server` (which must outlive it).
ServerAccess AccessTo(core::TParlowindServer& server);

// After a successful Server_Init: loads the kept bans, serves [Operator] Socket, and says on the
// event lines (and, when it cannot, on standard error) whether it does. The interface stops
// first when the server shuts down; the server must outlive the returned object.
std::shared_ptr<OperatorServer> StartOperatorInterface(core::TParlowindServer& server);

}  // namespace oper
