// With the size-based rule every texture of the configured size is replaced, and a game may
// draw several unrelated textures of that size. This analysis groups the well-used candidates
// of that size by the pixel shader they were last drawn with and fixes the shader of the
// smallest group: the GPS screen is assumed to have a shader of its own. From then on the size
// rule substitutes only bindings made under that shader.
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "core/Logger.h"
#include "dx11/Dx11Core.h"
#include "dx11/GpsRules.h"

namespace zor {

void Dx11Core::runShaderGroupAnalysis() {
  try {
    analyseShaderGroups();
  } catch (...) {
    // Out of memory while grouping: the next eligible frame tries again.
  }
}

void Dx11Core::analyseShaderGroups() {
  const uint64_t needed = config_.minHitsToLock > 0 ? static_cast<uint64_t>(config_.minHitsToLock) : 0;
  std::unordered_map<ID3D11PixelShader*, std::vector<GpsCandidate>> groups;
  // Groups in the order they were first met, so that the smallest-group choice is repeatable.
  std::vector<ID3D11PixelShader*> order;
  {
    std::lock_guard<std::mutex> lock(ident_.candidateMutex);
    for (const auto& [texture, c] : ident_.candidates) {
      if (!gpsrules::matchesConfiguredGps(config_, c.width, c.height, c.format, c.bindFlags)) continue;
      if (c.useCount < needed || !c.pixelShader) continue;
      auto [it, inserted] = groups.try_emplace(c.pixelShader);
      if (inserted) order.push_back(c.pixelShader);
      it->second.push_back(c);
    }
  }

  if (groups.empty()) {
    logWarning(
        "V1.14.0: aun no hay suficientes candidatas con shader conocido para analizar. Reintentando mas tarde.");
    return;
  }
  if (groups.size() == 1) {
    logWarning(
        "V1.14.0: solo se ha visto 1 grupo de shader hasta ahora (hacen falta al menos 2 para poder distinguir cual es "
        "minoritario). Reintentando mas tarde.");
    return;
  }
  ID3D11PixelShader* chosen = nullptr;
  size_t smallest = 0;
  for (ID3D11PixelShader* shader : order) {
    const size_t size = groups[shader].size();
    if (!chosen || size < smallest) {
      chosen = shader;
      smallest = size;
    }
  }
  ident_.gpsPixelShader.store(chosen);
  ident_.gpsShaderFixed.store(true);
  char line[320];
  std::snprintf(line, sizeof line,
                "V1.14.0: shader del GPS fijado automaticamente -> 0x%016llX (compartido por %zu textura(s), de %zu "
                "grupos de shader distintos vistos en total). De ahora en adelante solo se sustituye lo que use ESE "
                "shader.",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(chosen)), smallest, groups.size());
  logInfo(line);
}

}  // namespace zor
