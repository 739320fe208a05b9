// A port whose telegrams the log tests send, in a working directory of
// their own with a "Qenlog" folder.
#pragma once

#include <gtest/gtest.h>

#include "link_harness.h"

namespace zentrok::test {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = qen_InitComm(device_.PortNumber(), 1);
        ASSERT_NE(port_, nullptr);
    }
    void TearDown() override { qen_CloseComm(port_); }

    void SendAndAwaitAck(std::string_view telegram) {
        EXPECT_TRUE(ExchangeTelegram(device_, port_, telegram).acknowledged) << telegram;
    }

    WorkDir dir_;
    DeviceDouble device_{9};
    QenHandle port_ = nullptr;
};

}  // namespace zentrok::test
