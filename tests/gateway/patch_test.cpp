#include "tools/tivgate/patch.h"

#include <gtest/gtest.h>

namespace tivgate {
namespace {

TEST(Patch, ReadsFixturesAndLossPolicy) {
    const auto r = parse_patch(R"(universe = 3
[[fixture]]
address = 0x010001
channel = 1
mode = "rgbw"
[[fixture]]
address = 255
channel = 508
mode = "rgbw-fade"
[loss]
after = 0.5
look = 0x11223344
fade = 9
[bus]
refresh = 0
startup = "#10203040"
)", "p.toml");
    ASSERT_TRUE(r.patch) << r.error;
    const Patch& p = *r.patch;
    EXPECT_EQ(p.universe, 3u);
    ASSERT_EQ(p.fixtures.size(), 2u);
    EXPECT_EQ(p.fixtures[0].address, 0x010001u);
    EXPECT_EQ(p.fixtures[1].mode, FixtureMode::rgbw_fade);
    EXPECT_EQ(p.fixtures[1].line, 6);
    EXPECT_EQ(p.loss.after, std::chrono::milliseconds(500));
    EXPECT_EQ(p.loss.look, (Look{0x11223344, 9}));
    EXPECT_EQ(p.bus.refresh.count(), 0) << "0 turns the refresh off";
    EXPECT_EQ(p.bus.startup, (Look{0x10203040, 0}));
    EXPECT_EQ(p.http.listen, "127.0.0.1:9011") << "the default";
}

TEST(Patch, RefusesWithTheLineNamed) {
    const std::string head = "universe = 1\n[[fixture]]\naddress = 0x010001\nchannel = 1\nmode = \"rgbw\"\n";
    const struct {
        std::string tail;
        std::string error;
    } cases[] = {
        {"[[fixture]]\naddress = 2\nchannel = 4\nmode = \"rgbw\"\n", "p:6: slots 4..7 overlap the fixture on line 2"},
        {"[[fixture]]\naddress = 0x010001\nchannel = 9\nmode = \"rgbw\"\n", "p:6: address 0x10001 is patched already"},
        {"[[fixture]]\naddress = 0x100\nchannel = 9\nmode = \"rgbw\"\n", "p:7: 'address' = 0x100 is neither"},
        {"[[fixture]]\naddress = 0x1000000\nchannel = 9\nmode = \"rgbw\"\n", "p:7: 'address' = 0x1000000 is neither"},
        {"[[fixture]]\naddress = 2\nchannel = 510\nmode = \"rgbw\"\n", "p:8: 'channel' = 510 is out of range 1..509"},
        {"[[fixture]]\naddress = 2\nchannel = 0\nmode = \"rgbw\"\n", "p:8: 'channel' = 0 is out of range"},
        {"[[fixture]]\naddress = 2\nchannel = 9\nmode = \"rgb\"\n", "p:9: 'mode' must be"},
        {"[[fixture]]\naddress = 2\nchannel = 9\nmode = \"rgbw\"\ncolour = 1\n", "p:10: unknown key 'colour' in [[fixture]]"},
        {"[loss]\nafter = 0\n", "p:7: 'after' must be seconds"},
        {"[loss]\nlook = \"black\"\n", "p:7: 'look' must be \"hold\" or a colour"},
        {"speed = 3\n", "p:6: unknown key 'speed'"},
        {"[[fixture]]\naddress = 2\n channel = \n", "p:8: "},
        {"[bus]\nrefresh = -1\n", "p:7: 'refresh' must be seconds, 0 (off) or more"},
        {"[bus]\nstartup = 0x10203040\n", "p:7: 'startup' must be \"hold\" or a colour \"#RRGGBBWW\""},
        {"[http]\nlisten = \"localhost:9011\"\n", "p:7: 'listen' must be \"\" (off) or an IPv4 address and port"},
        {"[http]\nlisten = \"127.0.0.1:65536\"\n", "p:7: 'listen' must be"},
        {"[[group]]\naddress = 2\nmembers = [0x010009]\n", "p:8: member 0x010009 is not a device fixture"},
        {"[[fixture]]\naddress = 2\nchannel = 9\nmode = \"rgbw\"\n[[group]]\naddress = 2\nmembers = [0x010001]\n",
         "p:11: group 2 is patched as a fixture on line 6"},
        {"[[group]]\naddress = 2\nmembers = [0x010001]\n[[group]]\naddress = 3\nmembers = [0x010001]\n",
         "p:11: device 0x010001 is a member of the group on line 6 already"},
        {"[[fixture]]\naddress = 0x010002\nchannel = 9\nmode = \"rgbw-fade\"\n[[group]]\naddress = 2\n"
         "members = [0x010001, 0x010002]\n",
         "p:12: device 0x010002 is rgbw-fade but 0x010001 is rgbw"},
    };
    for (const auto& c : cases) {
        const auto r = parse_patch(head + c.tail, "p");
        ASSERT_FALSE(r.patch) << c.tail;
        EXPECT_EQ(r.error.rfind(c.error, 0), 0u) << r.error;
    }
    EXPECT_EQ(parse_patch("universe = 1\n", "p").error, "p:1: no [[fixture]] in the patch");
}

TEST(Look, ReadsSlotsFromTheFixtureChannelAndZeroPastAShortFrame) {
    const std::vector<uint8_t> dmx = {9, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(look_from_dmx(dmx, 2, FixtureMode::rgbw), (Look{0x11223344, 0}));
    EXPECT_EQ(look_from_dmx(dmx, 2, FixtureMode::rgbw_fade), (Look{0x11223344, 0x55}));
    EXPECT_EQ(look_from_dmx(dmx, 5, FixtureMode::rgbw_fade), (Look{0x44550000, 0}));
}

}  // namespace
}  // namespace tivgate
