// Declarations of the game's telemetry SDK ABI (64-bit), written from the published
// interface: types, result codes, events, value types and the init parameter block.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef uint8_t scs_u8_t;
typedef uint16_t scs_u16_t;
typedef int32_t scs_s32_t;
typedef uint32_t scs_u32_t;
typedef uint64_t scs_u64_t;
typedef int64_t scs_s64_t;
typedef float scs_float_t;
typedef double scs_double_t;
typedef const char* scs_string_t;

typedef scs_s32_t scs_result_t;
typedef scs_s32_t scs_log_type_t;
typedef scs_u32_t scs_event_t;
typedef scs_u32_t scs_value_type_t;
typedef void* scs_context_t;
typedef scs_u64_t scs_timestamp_t;

#define SCS_U32_NIL static_cast<scs_u32_t>(0xFFFFFFFFu)

#define SCS_RESULT_ok static_cast<scs_result_t>(0)
#define SCS_RESULT_unsupported static_cast<scs_result_t>(-1)
#define SCS_RESULT_invalid_parameter static_cast<scs_result_t>(-2)
#define SCS_RESULT_already_registered static_cast<scs_result_t>(-3)
#define SCS_RESULT_not_found static_cast<scs_result_t>(-4)
#define SCS_RESULT_unsupported_type static_cast<scs_result_t>(-5)
#define SCS_RESULT_not_now static_cast<scs_result_t>(-6)
#define SCS_RESULT_generic_error static_cast<scs_result_t>(-7)

#define SCS_LOG_TYPE_message static_cast<scs_log_type_t>(0)
#define SCS_LOG_TYPE_warning static_cast<scs_log_type_t>(1)
#define SCS_LOG_TYPE_error static_cast<scs_log_type_t>(2)

#define SCS_MAKE_VERSION(major, minor) ((static_cast<scs_u32_t>(major) << 16) | static_cast<scs_u32_t>(minor))
#define SCS_TELEMETRY_VERSION_1_00 SCS_MAKE_VERSION(1, 0)
#define SCS_TELEMETRY_VERSION_1_01 SCS_MAKE_VERSION(1, 1)

#define SCS_TELEMETRY_EVENT_invalid static_cast<scs_event_t>(0)
#define SCS_TELEMETRY_EVENT_frame_start static_cast<scs_event_t>(1)
#define SCS_TELEMETRY_EVENT_frame_end static_cast<scs_event_t>(2)
#define SCS_TELEMETRY_EVENT_paused static_cast<scs_event_t>(3)
#define SCS_TELEMETRY_EVENT_started static_cast<scs_event_t>(4)
#define SCS_TELEMETRY_EVENT_configuration static_cast<scs_event_t>(5)
#define SCS_TELEMETRY_EVENT_gameplay static_cast<scs_event_t>(6)

#define SCS_VALUE_TYPE_INVALID static_cast<scs_value_type_t>(0)
#define SCS_VALUE_TYPE_bool static_cast<scs_value_type_t>(1)
#define SCS_VALUE_TYPE_s32 static_cast<scs_value_type_t>(2)
#define SCS_VALUE_TYPE_u32 static_cast<scs_value_type_t>(3)
#define SCS_VALUE_TYPE_u64 static_cast<scs_value_type_t>(4)
#define SCS_VALUE_TYPE_float static_cast<scs_value_type_t>(5)
#define SCS_VALUE_TYPE_double static_cast<scs_value_type_t>(6)
#define SCS_VALUE_TYPE_fvector static_cast<scs_value_type_t>(7)
#define SCS_VALUE_TYPE_dvector static_cast<scs_value_type_t>(8)
#define SCS_VALUE_TYPE_euler static_cast<scs_value_type_t>(9)
#define SCS_VALUE_TYPE_fplacement static_cast<scs_value_type_t>(10)
#define SCS_VALUE_TYPE_dplacement static_cast<scs_value_type_t>(11)
#define SCS_VALUE_TYPE_string static_cast<scs_value_type_t>(12)
#define SCS_VALUE_TYPE_s64 static_cast<scs_value_type_t>(13)

#define SCS_TELEMETRY_CHANNEL_FLAG_none static_cast<scs_u32_t>(0)
#define SCS_TELEMETRY_CHANNEL_FLAG_each_frame static_cast<scs_u32_t>(1)
#define SCS_TELEMETRY_CHANNEL_FLAG_no_value static_cast<scs_u32_t>(2)

struct scs_value_bool_t { scs_u8_t value; };
struct scs_value_s32_t { scs_s32_t value; };
struct scs_value_u32_t { scs_u32_t value; };
struct scs_value_u64_t { scs_u64_t value; };
struct scs_value_s64_t { scs_s64_t value; };
struct scs_value_float_t { scs_float_t value; };
struct scs_value_double_t { scs_double_t value; };
struct scs_value_fvector_t { scs_float_t x, y, z; };
struct scs_value_dvector_t { scs_double_t x, y, z; };
struct scs_value_euler_t { scs_float_t heading, pitch, roll; };
struct scs_value_fplacement_t {
  scs_value_fvector_t position;
  scs_value_euler_t orientation;
};
struct scs_value_dplacement_t {
  scs_value_dvector_t position;
  scs_value_euler_t orientation;
  scs_u32_t _padding;
};
struct scs_value_string_t { scs_string_t value; };

struct scs_value_t {
  scs_value_type_t type;
  scs_u32_t _padding;
  union {
    scs_value_bool_t value_bool;
    scs_value_s32_t value_s32;
    scs_value_u32_t value_u32;
    scs_value_u64_t value_u64;
    scs_value_s64_t value_s64;
    scs_value_float_t value_float;
    scs_value_double_t value_double;
    scs_value_fvector_t value_fvector;
    scs_value_dvector_t value_dvector;
    scs_value_euler_t value_euler;
    scs_value_fplacement_t value_fplacement;
    scs_value_dplacement_t value_dplacement;
    scs_value_string_t value_string;
  };
};

struct scs_named_value_t {
  scs_string_t name;
  scs_u32_t index;
  scs_u32_t _padding;
  scs_value_t value;
};

struct scs_telemetry_configuration_t {
  scs_string_t id;
  const scs_named_value_t* attributes;
};

typedef void (*scs_log_t)(scs_log_type_t type, scs_string_t message);
typedef void (*scs_telemetry_event_callback_t)(scs_event_t event, const void* event_info, scs_context_t context);
typedef scs_result_t (*scs_telemetry_register_for_event_t)(scs_event_t event, scs_telemetry_event_callback_t callback,
                                                          scs_context_t context);
typedef scs_result_t (*scs_telemetry_unregister_from_event_t)(scs_event_t event);
typedef void (*scs_telemetry_channel_callback_t)(scs_string_t name, scs_u32_t index, const scs_value_t* value,
                                                 scs_context_t context);
typedef scs_result_t (*scs_telemetry_register_for_channel_t)(scs_string_t name, scs_u32_t index,
                                                            scs_value_type_t type, scs_u32_t flags,
                                                            scs_telemetry_channel_callback_t callback,
                                                            scs_context_t context);
typedef scs_result_t (*scs_telemetry_unregister_from_channel_t)(scs_string_t name, scs_u32_t index,
                                                               scs_value_type_t type);

struct scs_sdk_init_params_v100_t {
  scs_string_t game_name;
  scs_string_t game_id;
  scs_u32_t game_version;
  scs_u32_t _padding;
  scs_log_t log;
};

struct scs_telemetry_init_params_v100_t {
  scs_sdk_init_params_v100_t common;
  scs_telemetry_register_for_event_t register_for_event;
  scs_telemetry_unregister_from_event_t unregister_from_event;
  scs_telemetry_register_for_channel_t register_for_channel;
  scs_telemetry_unregister_from_channel_t unregister_from_channel;
};

// Version 1.01 keeps the 1.00 layout.
typedef scs_telemetry_init_params_v100_t scs_telemetry_init_params_v101_t;
typedef scs_telemetry_init_params_v100_t scs_telemetry_init_params_t;

typedef scs_result_t (*scs_telemetry_init_t)(scs_u32_t version, const scs_telemetry_init_params_t* params);
typedef void (*scs_telemetry_shutdown_t)(void);

}  // extern "C"

static_assert(sizeof(void*) == 8, "the declarations describe the 64-bit game");
static_assert(sizeof(scs_value_bool_t) == 1);
static_assert(sizeof(scs_value_fvector_t) == 12 && sizeof(scs_value_dvector_t) == 24);
static_assert(sizeof(scs_value_euler_t) == 12 && sizeof(scs_value_fplacement_t) == 24);
static_assert(sizeof(scs_value_dplacement_t) == 40);
static_assert(offsetof(scs_value_dplacement_t, orientation) == 24);
static_assert(sizeof(scs_value_t) == 48);
static_assert(offsetof(scs_value_t, _padding) == 4);
static_assert(offsetof(scs_value_t, value_bool) == 8);
static_assert(offsetof(scs_value_t, value_string) == 8);
static_assert(offsetof(scs_value_t, value_dplacement) == 8);
static_assert(sizeof(scs_named_value_t) == 64);
static_assert(offsetof(scs_named_value_t, index) == 8);
static_assert(offsetof(scs_named_value_t, _padding) == 12);
static_assert(offsetof(scs_named_value_t, value) == 16);
static_assert(sizeof(scs_telemetry_configuration_t) == 16);
static_assert(offsetof(scs_telemetry_configuration_t, attributes) == 8);
static_assert(sizeof(scs_sdk_init_params_v100_t) == 32);
static_assert(offsetof(scs_sdk_init_params_v100_t, game_id) == 8);
static_assert(offsetof(scs_sdk_init_params_v100_t, game_version) == 16);
static_assert(offsetof(scs_sdk_init_params_v100_t, _padding) == 20);
static_assert(offsetof(scs_sdk_init_params_v100_t, log) == 24);
static_assert(offsetof(scs_telemetry_init_params_v100_t, register_for_event) == 32);
static_assert(offsetof(scs_telemetry_init_params_v100_t, unregister_from_event) == 40);
static_assert(offsetof(scs_telemetry_init_params_v100_t, register_for_channel) == 48);
static_assert(offsetof(scs_telemetry_init_params_v100_t, unregister_from_channel) == 56);
static_assert(sizeof(scs_telemetry_init_params_v100_t) == 64);
static_assert(sizeof(scs_result_t) == 4 && sizeof(scs_log_type_t) == 4 && sizeof(scs_event_t) == 4 &&
              sizeof(scs_value_type_t) == 4 && sizeof(scs_timestamp_t) == 8);
static_assert(SCS_TELEMETRY_VERSION_1_00 == 0x00010000u && SCS_TELEMETRY_VERSION_1_01 == 0x00010001u);
