// HLSL of the cab scene, compiled at start with D3DCompile (vs_4_0 / ps_4_0).
#pragma once

namespace zor::sim {

inline constexpr char kCabShaders[] = R"HLSL(
cbuffer Frame : register(b0) {
  float4 timing;  // x seconds, y distance driven (m), z speed (km/h)
  float4 colour;  // solid colour of psSolid (sRGB)
};
struct VSIn { float2 pos : POSITION; float2 uv : TEXCOORD0; };
struct VSOut { float4 pos : SV_Position; float2 uv : TEXCOORD0; };
VSOut vsMain(VSIn i) { VSOut o; o.pos = float4(i.pos, 0.5, 1); o.uv = i.uv; return o; }

Texture2D t0 : register(t0);
Texture2D t1 : register(t1);
Texture2D t2 : register(t2);
Texture2D t3 : register(t3);
Texture2D t5 : register(t5);
Texture2D t6 : register(t6);
SamplerState s0 : register(s0);

// Written for the subset of HLSL every runtime we meet compiles: no user functions (macros
// instead), no ternaries, no frac/step/sqrt/sin.
#define FR(x) ((x) - floor(x))
#define TO_SRGB(c) lerp(saturate(c) * 12.92, 1.055 * pow(saturate(c), 1.0 / 2.4) - 0.055, (saturate(c) > 0.0031308) * 1.0)
#define TO_LINEAR(c) lerp((c) / 12.92, pow(((c) + 0.055) / 1.055, 2.4), ((c) > 0.04045) * 1.0)
#define col(r, g, b) (float3(r, g, b) / 255.0)

float4 psSolid(VSOut i) : SV_Target { return colour; }

// Windshield: sky texture above, a road running towards the horizon below. (No early
// returns: one result variable, as some compilers get early returns wrong.)
float4 psWindshield(VSOut i) : SV_Target {
  float horizon = 0.45;
  float depth = saturate((i.uv.y - horizon) / (1 - horizon));
  float half_ = lerp(0.01, 0.42, depth);
  float dx = abs(i.uv.x - 0.5);
  float z = 1.0 / max(depth, 0.02);
  float dash = FR(z * 0.5 + timing.y * 0.08);
  float3 c = col(62, 62, 66);
  if (dx > half_ * 0.94) c = col(220, 220, 220);
  if (dx < half_ * 0.03 && dash < 0.5) c = col(230, 230, 210);
  if (dx > half_) c = col(70, 110, 60) * (0.8 + 0.2 * depth);
  if (i.uv.y < horizon) c = t0.Sample(s0, float2(i.uv.x, i.uv.y / horizon)).rgb;
  return float4(c, 1);
}

// Dashboard body: plastic, a detail map and a faint environment reflection.
float4 psPanel(VSOut i) : SV_Target {
  float3 base = t0.Sample(s0, i.uv * 2).rgb * t1.Sample(s0, i.uv * 6).rgb;
  float3 env = t5.Sample(s0, i.uv).rgb;
  return float4(base + env * 0.05, 1);
}

float4 psBezel(VSOut i) : SV_Target { return float4(t2.Sample(s0, i.uv).rgb, 1); }

// The game's map, rendered into the tablet GPS texture (an sRGB render target).
float4 psMap(VSOut i) : SV_Target {
  float2 p = i.uv + float2(0, -timing.y * 0.0004);
  float3 c = col(38, 84, 52);
  float2 g = p * 8 - floor(p * 8);
  if (g.x < 0.1 || g.y < 0.1) c = col(150, 160, 150);
  if (abs(i.uv.x - 0.5) < 0.012) c = col(235, 215, 60);
  float2 m = i.uv - float2(0.5, 0.62);
  if (m.y > -0.04 && m.y < 0.03 && abs(m.x) < (m.y + 0.04) * 0.5) c = col(245, 245, 245);
  float icon = t3.Sample(s0, i.uv * 4).a;
  return float4(TO_LINEAR(c) * (1 - 0.02 * icon), 1);
}

// Screens: whatever texture is in slot 6, shown as it is.
float4 psScreen(VSOut i) : SV_Target { return float4(TO_SRGB(t6.Sample(s0, i.uv).rgb), 1); }

// Second pass over the tablet screen: the glass, blended over the first.
float4 psGlass(VSOut i) : SV_Target {
  float3 c = TO_SRGB(t6.Sample(s0, i.uv).rgb);
  float glare = saturate(0.12 - length(i.uv - float2(0.06, 0.05))) * 2.0;
  return float4(c + glare, 0.4);
}
)HLSL";

}  // namespace zor::sim
