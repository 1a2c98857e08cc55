// The engine's events (engine/events.h) as the command line's own (events.h): the engine
// says what happened, this turns it into the lines, bars and exit codes a port's run shows
// and logs. It knows no window; the edition given only picks the success text.
#pragma once

#include <functional>
#include <string>

#include "cli/events.h"
#include "edition/edition.h"
#include "engine/events.h"

namespace quillon::cli {

class EngineEvents : public engine::Events {
public:
    // `take_stop` reads and clears the port's stop request (Ctrl-C).
    EngineEvents(EventSink& sink, editions::Edition edition, std::function<bool()> take_stop);

    void SearchStarted() override {}
    void PortRefused(int port, const serial::OpenFailure& why) override;
    void Searching(int) override {}
    void SearchTries(int) override {}
    void SearchTry(int attempt) override;
    void SearchEnded(engine::SearchResult result) override;
    void SessionStarted() override {}
    void DeviceReported(const engine::DeviceReport& report) override;
    void Refused(engine::Refusal why, const engine::DeviceReport& report) override;
    void ImagePrepared(std::uint8_t chip, bool plain) override;
    void ImageAccepted(const catalog::PreparedImage& image) override;
    void EnteringProgramMode() override;
    void ProgrammingStarted(int units) override;
    void Block(std::int32_t address, int done_units, bool last) override;
    void FixBlock() override;
    void EepromStarted(int count) override;
    void EepromByte(int) override {}
    void EepromWritten(int index) override;
    void Resend(int resend) override;
    void Failed(engine::LinkResult result) override;
    void PassedOn() override;
    void Succeeded() override;
    bool TakeStopRequested() override { return take_stop_ && take_stop_(); }

private:
    void Send(EventKind kind, std::string_view text, Exit exit = Exit::Success, int value = 0,
              int max = 0);

    EventSink& sink_;
    editions::Edition edition_;
    std::function<bool()> take_stop_;
    int flash_units_ = 0;
    int eeprom_bytes_ = 0;
};

}  // namespace quillon::cli
