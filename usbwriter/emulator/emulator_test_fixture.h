#pragma once
// Tests that drive the library against the in-process emulated programmer start from a fresh
// programmer and leave none of their settings behind.

#include <gtest/gtest.h>

#include <string>

#include "emulator_settings.h"
#include "session_record.h"

class EmulatedProgrammerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qs71::emu::Control().Reset();
    qs71::emu::LastSession().Reset();
  }
  void TearDown() override { qs71::emu::Control().Reset(); }

  static void AddFaults(const std::string& text) {
    std::string error;
    ASSERT_TRUE(qs71::emu::ParseFaults(text, qs71::emu::Control().faults, error)) << error;
  }
};
