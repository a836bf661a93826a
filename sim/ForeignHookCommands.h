// What the chaos run needs to know of the other overlay's hook on Present (ForeignHookCommands.cpp).
#pragma once

namespace zor::sim {

enum class ForeignHookState { None, Installed, TakenAway };
ForeignHookState foreignHookState();

}  // namespace zor::sim
