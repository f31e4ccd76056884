// A port list that says whatever the test puts in it, in that order.
#pragma once

#include "serial_port.h"

#include <string>
#include <vector>

namespace test_support {

class ListedPorts : public platform::PortLister {
public:
    std::vector<std::string> names;
    std::vector<std::string> list() override { return names; }
};

} // namespace test_support
