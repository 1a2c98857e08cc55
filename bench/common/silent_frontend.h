// A front end that shows nothing, for benchmarks that time the engine alone; a benchmark
// overrides the events it needs to see.
#pragma once

#include "engine/events.h"

namespace quillon::bench {

class SilentFrontend : public engine::Events {
public:
    void SearchStarted() override {}
    void PortRefused(int, const serial::OpenFailure&) override {}
    void Searching(int) override {}
    void SearchTries(int) override {}
    void SearchTry(int) override {}
    void SearchEnded(engine::SearchResult) override {}
    void SessionStarted() override {}
    void DeviceReported(const engine::DeviceReport&) override {}
    void Refused(engine::Refusal, const engine::DeviceReport&) override {}
    void ImagePrepared(std::uint8_t, bool) override {}
    void ImageAccepted(const catalog::PreparedImage&) override {}
    void EnteringProgramMode() override {}
    void ProgrammingStarted(int) override {}
    void Block(std::int32_t, int, bool) override {}
    void FixBlock() override {}
    void EepromStarted(int) override {}
    void EepromByte(int) override {}
    void EepromWritten(int) override {}
    void Resend(int) override {}
    void Failed(engine::LinkResult) override {}
    void PassedOn() override {}
    void Succeeded() override {}
    bool TakeStopRequested() override { return false; }
};

}  // namespace quillon::bench
