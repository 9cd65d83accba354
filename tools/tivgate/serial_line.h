// The line through the library: the connection on COM<port>, which the
// library opens as the device `path` names (main binds the two once, before
// any thread starts). Only the bus thread calls it.
#pragma once

#include "tools/tivgate/line.h"

namespace tivgate {

class SerialLine : public Line {
public:
    SerialLine(std::string path, int port, int baud);
    const std::string& path() const override { return path_; }
    std::string device() const override;
    std::optional<NodeId> node() const override;
    std::optional<std::string> busy() const override;
    bool open() override;
    void close() override;
    bool send(const Job& job) override;

private:
    std::string path_;
    int port_;
    int baud_;
    bool open_ = false;
};

}  // namespace tivgate
