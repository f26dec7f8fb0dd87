#pragma once
// Every time-out and pause of the program, in one place (milliseconds unless named otherwise).
// The long waits go through scaled(), which tests may shrink with KELTA_TIME_SCALE; the short
// pauses that readers rely on are never scaled.

#include <cstdint>

namespace kelta::timing {

// Waiting and pumping.
inline constexpr std::uint32_t kLoopSleepMs = 10;          // monitoring loop: sleep per pass
inline constexpr std::uint32_t kPumpSleepMs = 1;           // WaitPump: sleep per turn

// Configuration link and reader exchange.
inline constexpr std::uint32_t kAnswerTimeoutMs = 600;     // one attempt of ReaderExchange
inline constexpr int kReaderAttempts = 3;                  // ExecReaderCommand attempts
inline constexpr std::uint32_t kExchangePollSleepMs = 5;   // collector polling step
inline constexpr std::uint32_t kAfterWriteMs = 50;         // after the write / before the send
inline constexpr std::uint32_t kAfterExchangeMs = 50;      // after the exchange
inline constexpr std::uint32_t kBetweenAttemptsMs = 100;   // twice between attempts
inline constexpr std::uint32_t kAfterSocketCloseMs = 200;  // CloseLinks
inline constexpr std::uint32_t kConnectTimeoutMs = 10000;  // OpenLink / OpenNetworkLinks
inline constexpr std::uint32_t kConnectPollSleepMs = 2;    // OpenLink connect loop
inline constexpr std::uint32_t kAnnouncementGapMs = 20;    // serial link announcement, twice
inline constexpr std::uint32_t kSerialDiscardAbove = 10240; // exchange: queued bytes discarded

// Tag frame writer.
inline constexpr int kTagSendTries = 5;
inline constexpr std::uint32_t kTagSendRetryMs = 50;
inline constexpr std::uint32_t kTagSendMinWaitMs = 6;
inline constexpr std::uint32_t kTagSendTryLimitMs = 1000;

// Tag exchange. The countdown's second and the pauses between its passes are scaled with
// the 30 s wait; one receive attempt and its polling are the reader's timing and are not.
inline constexpr std::uint32_t kTagWaitMs = 30000;
inline constexpr int kTagWaitSeconds = 30;
inline constexpr std::uint32_t kTagSecondMs = 1000;        // one step of the countdown
inline constexpr std::uint32_t kTagPassPauseMs = 500;      // twice per pass of the wait
inline constexpr std::uint32_t kTagPassSleepMs = 10;       // after the pauses of a pass
inline constexpr std::uint32_t kTagReceiveMs = 600;        // one ReceiveTagAnswer attempt
inline constexpr std::uint32_t kTagReceiveStartMs = 10;    // before an attempt polls
inline constexpr std::uint32_t kTagSendFailPauseMs = 500;  // after a frame not written

// Exciter frames on the serial link.
inline constexpr std::uint32_t kExciterAnswerMs = 300;     // one frame's answer
inline constexpr std::uint32_t kExciterPollMs = 20;        // polling step
inline constexpr std::uint32_t kExciterStepGapMs = 150;    // between the four steps
inline constexpr int kExciterDiscardAbove = 1024;          // queued bytes thrown away

// Monitoring.
inline constexpr std::uint32_t kOpenLinksSettleMs = 50;    // x10 after opening the links
inline constexpr std::uint32_t kWatchdogMs = 15000;        // silent outgoing connection
inline constexpr std::uint32_t kReconnectFirstMs = 1000;   // lost outgoing connection: 1st try
inline constexpr std::uint32_t kReconnectLongestMs = 8000; // back-off doubles up to this
inline constexpr std::uint32_t kSerialReopenCheckMs = 1000; // lost serial device looked for
inline constexpr std::uint32_t kTagLogIdleMs = 200;        // log mode: pass that found nothing
inline constexpr std::uint32_t kSerialPollSleepMs = 5;     // PollSerialLink attempt
inline constexpr int kSerialPollAttempts = 10;
inline constexpr std::uint32_t kPartialFrameStaleMs = 200; // partial serial frame dropped
inline constexpr std::uint32_t kBusyTimerMs = 250;

// Platform layer.
inline constexpr std::uint32_t kSerialWriteTimeoutMs = 1000; // a write that cannot drain fails
inline constexpr int kToneLongestMs = 5000;                   // tone(): longest pause it makes

// Factor for the long waits; 1.0 unless KELTA_TIME_SCALE holds a number in (0, 1].
double timeScale();
inline std::uint32_t scaled(std::uint32_t ms) {
    const double v = ms * timeScale();
    return v < 1.0 ? 1u : static_cast<std::uint32_t>(v);
}

} // namespace kelta::timing
