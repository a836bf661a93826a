#include "core/ProcessExit.h"

#include <atomic>

namespace zor::process {
namespace {
std::atomic<bool> g_ending{false};
}  // namespace

void markEnding() noexcept { g_ending.store(true, std::memory_order_release); }
bool ending() noexcept { return g_ending.load(std::memory_order_acquire); }

}  // namespace zor::process
