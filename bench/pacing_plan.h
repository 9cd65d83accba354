// The frame sequences the pacing benchmark sends, with the pauses the
// protocol mandates after each frame, and the library calls that send them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tivbench {

struct PlanFrame {
    uint32_t address;
    uint8_t command;
    std::vector<uint8_t> payload;
    std::vector<int> pauses_ms;  // in the order the sender keeps them
    int pause_ms() const;        // their sum
};

struct Scenario {
    std::string key;    // for the results
    std::string title;  // for people
    int reps;
    std::vector<PlanFrame> plan;         // one repetition
    std::function<void()> run_library;  // sends one repetition through the library
};

struct ScenarioSizes {
    int rgbx_calls;      // set_rgbx calls per repetition
    int rgbx_reps;
    int group_reps;
    int setup_reps;
    int download_bytes;
};

ScenarioSizes full_sizes();
ScenarioSizes smoke_sizes();

// set_rgbx series to a physical and to a group address, set_serial (a setup
// sequence) and a download, all to the devices named in pacing_plan.cpp.
std::vector<Scenario> pacing_scenarios(const ScenarioSizes& sizes);

// The encoded frame as it goes on the wire, stuffing included (own encoder,
// independent of the library's), and its length.
std::vector<uint8_t> wire_bytes(const PlanFrame& frame);
size_t wire_size(const PlanFrame& frame);

}  // namespace tivbench
