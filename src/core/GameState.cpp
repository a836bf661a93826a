#include "core/GameState.h"

namespace zor {

GameState& gameState() {
  static GameState state;
  return state;
}

}  // namespace zor
