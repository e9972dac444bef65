// The fixtures most suites share.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/error_state.h"
#include "app/job_options.h"
#include "support/cli_runner.h"

// In-process stages start and end with the settings and the error state of
// a fresh run.
class FreshRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    jobOptions = JobOptions{};
    resetErrorState();
  }
  void TearDown() override {
    jobOptions = JobOptions{};
    resetErrorState();
  }
};

// Runs through the binary, in a scratch directory of their own; run() also
// checks that nothing reaches standard error.
class ScratchCliTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  CliResult run(const std::vector<std::string>& args) {
    CliResult result = runQuarlixIn(dir.path(), args);
    EXPECT_EQ(result.errors, "") << "nothing may go to standard error";
    return result;
  }
};
