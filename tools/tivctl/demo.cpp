#include "tools/tivctl/demo.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tivlink.h"
#include "tools/common/count_text.h"
#include "tools/common/device_text.h"
#include "tools/common/frame_text.h"
#include "tools/common/number_parse.h"
#include "tools/common/terminal.h"
#include "tools/tivctl/download_command.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/operations.h"
#include "tools/common/sim_session.h"

namespace tivctl {

namespace {

using tivtools::SimSession;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Devices as they come from the factory: their own addresses, no group.
constexpr uint32_t kFactory[] = {0xF00001, 0xF00002, 0xF00003, 0xF00004};
constexpr uint32_t kAssigned[] = {0x100001, 0x100002, 0x100003, 0};  // 0: a random one
constexpr uint32_t kGroupOf[] = {1, 1, 2, 2};
constexpr uint32_t kImageStart = 0x100;

class Demo {
public:
    explicit Demo(SimSession& sim) : sim_(sim) {}

    void title(const char* text) {
        std::printf("\n== %s\n", text);
        std::fflush(stdout);
    }

    // Runs one operation as tivctl would, showing the command for it.
    int run(const Operation& op) {
        std::printf("   $ tivctl %s\n", operation_text(op).c_str());
        std::fflush(stdout);
        const int status = run_operation(op);
        failures_ += status != kExitOk;
        return status;
    }

    // Devices that changed since the last step, and how many frames it took.
    void show_changes() {
        sim_.settle();
        sim_.print_devices(stdout, false);
        sim_.print_frames(stdout, false);
        sim_.mark();
    }

    int failures() const { return failures_; }

private:
    SimSession& sim_;
    int failures_ = 0;
};

Operation op(OpKind kind, uint32_t address, uint32_t colour = 0, uint32_t value = 0) {
    Operation o;
    o.kind = kind;
    o.address = address;
    o.colour = colour;
    o.value = value;
    return o;
}

// Returns the addresses the devices answer to now; the random one as the
// device took it.
void give_addresses(Demo& demo, SimSession& sim, uint32_t (&address)[4]) {
    demo.title("Give each device its address (the last one a random one)");
    for (int i = 0; i < 4; i++) demo.run(op(OpKind::set_serial, kFactory[i], 0, kAssigned[i]));
    demo.show_changes();
    for (int i = 0; i < 4; i++) address[i] = sim.bus().devices().device(i).physical_address;
}

void form_groups(Demo& demo, const uint32_t (&address)[4]) {
    demo.title("Put them in groups 1 and 2");
    for (int i = 0; i < 4; i++) demo.run(op(OpKind::set_group, address[i], 0, kGroupOf[i]));
    demo.show_changes();
}

void light_up(Demo& demo, const uint32_t (&address)[4]) {
    demo.title("Set a colour per device");
    const uint32_t colours[] = {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF};
    for (int i = 0; i < 4; i++) demo.run(op(OpKind::set_rgbx, address[i], colours[i]));
    demo.show_changes();

    demo.title("Set a colour per group");
    demo.run(op(OpKind::set_rgbx, 1, 0xFFA50000));
    demo.run(op(OpKind::set_rgbx, 2, 0x8000FF20));
    demo.show_changes();

    demo.title("Fade one device and a whole group");
    demo.run(op(OpKind::fade_rgbx, address[0], 0x00FF8000, 20));
    demo.run(op(OpKind::fade_rgbx, 2, 0xFFFFFFFF, 40));
    demo.show_changes();
}

void programs_and_frames(Demo& demo, const uint32_t (&address)[4]) {
    demo.title("Send programs to a device and to a group");
    demo.run(op(OpKind::prog, address[0], 0, 3));
    demo.run(op(OpKind::prog, 2, 0, 9));
    demo.show_changes();

    demo.title("Send a raw LIGHT frame that sets the channels directly");
    Operation raw = op(OpKind::send, address[1]);
    raw.command = 0x7E;
    raw.payload = {0x00, 0x10, 0x20, 0x30, 0x40};
    demo.run(raw);
    demo.show_changes();

    demo.title("Run the firmware-reset sequence on the last device, then reset everyone");
    demo.run(op(OpKind::firmware_reset, address[3]));
    demo.run(op(OpKind::reset, 1));
    demo.run(op(OpKind::reset, 2));
    demo.show_changes();
}

// An image file of `size` bytes for EEPROM address kImageStart.
std::string write_image(uint32_t size) {
    char path[] = "/tmp/tivctl-demo-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    std::string bytes;
    const char text[] = "tivlink demo image ";
    for (uint32_t i = 0; i < size; i++) bytes += text[i % (sizeof text - 1)];
    for (int shift = 24; shift >= 0; shift -= 8) bytes += (char)(kImageStart >> shift);
    const bool written = write(fd, bytes.data(), bytes.size()) == (ssize_t)bytes.size();
    close(fd);
    if (!written) {
        unlink(path);
        return {};
    }
    return path;
}

int download_image(Demo& demo, SimSession& sim, uint32_t address, uint32_t size) {
    char heading[96];
    std::snprintf(heading, sizeof heading, "Load a %u-byte EEPROM image and download it to %s", size,
                  tivtools::address_text(address).c_str());
    demo.title(heading);
    const std::string path = write_image(size);
    if (path.empty()) {
        std::fprintf(stderr, "tivctl: demo: cannot write an image file in /tmp\n");
        return kExitFailed;
    }
    Operation shown = op(OpKind::download, address);
    shown.file = path;
    std::printf("   $ tivctl %s\n", operation_text(shown).c_str());
    std::fflush(stdout);
    const int loaded = load_e2_file(path.c_str());
    unlink(path.c_str());
    if (loaded != 0) return kExitFailed;
    const int status = run_download(address, 1s);
    demo.show_changes();
    if (auto device = sim.bus().devices().find(address)) {
        std::vector<uint8_t> stored(device->eeprom.begin() + kImageStart, device->eeprom.begin() + kImageStart + size);
        std::printf("   EEPROM of %s from 0x%03X: %s\n", tivtools::address_text(address).c_str(), kImageStart,
                    tivtools::hex_text(stored, 32).c_str());
    }
    return status;
}

}  // namespace

int run_demo(const Request& r) {
    const Clock::time_point start = Clock::now();
    std::vector<tivtools::SimDevicePlace> layout;
    for (uint32_t a : kFactory) layout.push_back({a, 0});
    SimSession sim(layout, r.port);
    const std::vector<tivsim::DeviceState> initial = sim.bus().devices().snapshot();
    std::printf("A simulated bus of four devices on COM%d:\n", r.port);
    sim.print_devices(stdout, true);

    if (init_tiv3(r.port, (int32_t)r.baud) != 0) return kExitFailed;
    Demo demo(sim);
    uint32_t address[4] = {};
    give_addresses(demo, sim, address);
    form_groups(demo, address);
    light_up(demo, address);
    programs_and_frames(demo, address);
    const int downloaded = download_image(demo, sim, address[0], r.demo_image_bytes);
    exit_tiv3();

    std::printf("\n== Final state of every device (* changed during the demo)\n");
    sim.settle();
    sim.print_devices(stdout, true, &initial);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("demo: %s on the bus in %.1f s\n", tivtools::count_text(sim.bus().log().size(), "frame").c_str(),
                seconds);
    if (downloaded != kExitOk) return downloaded;
    return demo.failures() ? kExitFailed : kExitOk;
}

}  // namespace tivctl
