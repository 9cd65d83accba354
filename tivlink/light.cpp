// Light output and auxiliary commands: short series of frames, no pauses of
// their own, the result of the last frame returned.
#include "diagnostics/diagnostics.h"
#include "tivlink.h"
#include "tivlink/frame.h"

enum : uint8_t {
    LIGHT_SET = 0x00,
    LIGHT_TARGET = 0x04,
    LIGHT_STEPS = 0x08,
    LIGHT_FADE = 0x11,
    LIGHT_MODE = 0x12,
};

static int32_t send_light(uint32_t a, const uint8_t* payload, uint32_t len) {
    return tiv_frame_send(a, CMD_LIGHT, payload, len);
}

static int32_t send_colour(uint32_t a, uint8_t sub_command, uint32_t colour) {
    const uint8_t payload[5] = {sub_command, (uint8_t)(colour >> 24), (uint8_t)(colour >> 16),
                                (uint8_t)(colour >> 8), (uint8_t)colour};
    return send_light(a, payload, sizeof payload);
}

int32_t set_rgbx(uint32_t a, uint32_t colour) {
    const uint8_t mode[2] = {LIGHT_MODE, 0x01};
    send_light(a, mode, sizeof mode);
    send_colour(a, LIGHT_TARGET, colour);
    return send_colour(a, LIGHT_SET, colour);
}

int32_t fade_rgbx(uint32_t a, uint32_t colour, int32_t value) {
    const uint8_t fade[3] = {LIGHT_FADE, (uint8_t)value, 0x01};
    const uint8_t steps[5] = {LIGHT_STEPS, 0x01, 0x01, 0x01, 0x01};
    send_light(a, fade, sizeof fade);
    send_light(a, steps, sizeof steps);
    return send_colour(a, LIGHT_TARGET, colour);
}

int32_t xd_reset(uint32_t a) { return tiv_frame_send(a, CMD_RESET, nullptr, 0); }

int32_t xd_prog(uint32_t a, int32_t nr) {
    TIV_ASSERT((nr>=0 && nr<=7) || nr==9);
    const uint8_t payload[3] = {0x15, 0x00, (uint8_t)(200 + 3 * nr)};
    return tiv_frame_send(a, CMD_XD_PROG, payload, sizeof payload);
}
