#pragma once
// The conversation with one sensor: the reply dispatcher, the identity chain
// (0x01 0x02 0x03 0x10 0x11 0x12 0x13 0x30, one request outstanding at a time),
// status replies, the card-read gate and its 100 ms poll, the keep-alive flag
// and the firmware transfer.
//
// main() builds one after the link and hands it to the dialogs; tests make
// their own with recording fakes.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "link/FrameReceiver.h"
#include "link/FrameSender.h"
#include "link/LinkFrame.h"
#include "link/TrafficDump.h"
#include "platform/CountingSemaphore.h"
#include "platform/HighResTimer.h"
#include "protocol/CardReadTracker.h"
#include "protocol/CommandSet.h"
#include "protocol/FirmwareTransfer.h"
#include "protocol/Notifications.h"
#include "protocol/SensorSettings.h"

namespace varnel {

class DeviceSession {
 public:
  static constexpr std::chrono::milliseconds kIdentityDelay{500};
  static constexpr std::chrono::milliseconds kCardPollPeriod{100};
  // How long a poll tick waits for the reply to the card read before it. A reply
  // lost on a noisy line would otherwise keep the gate taken while the sensor
  // goes on answering everything else, and the search would show a stale card.
  static constexpr std::chrono::milliseconds kCardReplyDeadline{1000};

  // startReader starts the thread that feeds receiver (the link's reader).
  // op: where results are posted and status replies shown. trace: where the
  // firmware transfer writes its per-chunk lines; none for no trace.
  DeviceSession(FrameSender& sender, FrameReceiver& receiver, std::function<void()> startReader,
                const Operator& op, TrafficLog* trace = nullptr);
  // Shutdown(). The reader that feeds receiver must have been stopped first:
  // the installed handler refers to this session.
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // UI thread, once: installs DispatchReply as the frame handler, then starts
  // the reader, then arms the one-shot identity query 500 ms later. Later calls
  // do nothing.
  void StartLink();

  // The frame handler; reader thread.
  void DispatchReply(const LinkFrame& frame);
  void SequenceReply(const LinkFrame& frame);
  void OnStatusReply(const LinkFrame& frame);

  // Requests. Any thread.
  void SendIdentityQuery();
  void SendCardRead();
  void SendKeepAlive();
  void SendCanIdRequest(std::uint32_t canId, std::uint8_t frameType);
  void SendRegisterSn(const RegistrationRecord& record);
  void SendNodeAddressRequest(std::uint8_t address);
  void SendSerialBaudRequest(std::uint8_t baudCode);
  void SendCanRateRequest(std::uint8_t rateCode);
  void SendOutputModeRequest(std::uint8_t modeCode);
  void SendSaveConfigRequest();
  void SendFactoryResetRequest();
  void SendRestartRequest();

  // The card poll. StartCardPoll, StopCardPoll and IsCardPollRunning: UI thread.
  // The poll timer's routine: take the gate, send 0x30. When the reply to the
  // read before does not come within kCardReplyDeadline, that read counts as
  // lost and this one goes out all the same; but with two reads out the tick
  // waits for a reply (CardReadTracker), so a slow sensor never gets a third.
  void CardPollTick();
  void StartCardPoll();  // an existing poll is left running
  // Kills the poll timer, releases the gate (a tick waiting on it sends one last
  // 0x30 and returns), then joins the timer's thread. Nothing when none runs.
  void StopCardPoll();
  bool IsCardPollRunning() const { return cardPollTimer_ != nullptr; }
  // Card reads given up for lost by a poll tick since construction.
  std::uint64_t LostCardReads() const { return lostCardReads_.load(); }

  // The link watch: whether a keep-alive reply arrived since the last call; clears it.
  bool TakeKeepAliveAnswered() { return keepAliveAnswered_.exchange(false); }
  bool KeepAliveAnswered() const { return keepAliveAnswered_.load(); }
  // The link watch: whether a status box held reception (the reader waits while
  // one is open, so no reply can arrive) at any moment since the last call.
  // A box still open counts for the next call as well.
  bool TakeReceptionHeld();

  // The firmware download: started and abandoned on the UI thread through this
  // one entry; the rest of the exchange runs on the reader thread.
  FirmwareTransfer& Firmware() { return firmware_; }

  // Stops both timers and the firmware transfer's watchdog, and waits for their
  // threads. UI thread; before the link stops at exit.
  void Shutdown();

  SensorSettings& Settings() { return settings_; }
  CountingSemaphore& CardReadGate() { return cardReadGate_; }
  // Reader thread (or a test driving DispatchReply on its own thread).
  std::uint8_t NextQuery() const { return nextQuery_; }

 private:
  void Send(LinkFrame frame) { sender_.SendData(frame); }
  void SendQuery(std::uint8_t query);

  FrameSender& sender_;
  FrameReceiver& receiver_;              // handler installed once, before the reader starts
  std::function<void()> startReader_;
  const Operator operator_;              // outlives the session

  SensorSettings settings_;              // atomic fields: reader thread and UI thread
  FirmwareTransfer firmware_;            // locks itself
  std::uint8_t nextQuery_ = CMD_FIRMWARE_VERSION;  // reader thread only
  std::atomic<bool> keepAliveAnswered_{false};     // set by the reader, taken by the link watch
  CountingSemaphore cardReadGate_{1, 1};           // at most one poll-driven card read outstanding
  std::atomic<std::uint64_t> lostCardReads_{0};    // counted on the poll timer's thread, read anywhere
  std::mutex cardReadsMutex_;                      // guards cardReads_
  CardReadTracker cardReads_{kCardReplyDeadline};  // sent by the poll and chain threads, settled by the reader
  std::atomic<int> statusBoxesOpen_{0};            // changed by the reader thread, read by the link watch
  std::atomic<bool> receptionHeld_{false};         // set by the reader thread, taken by the link watch
  bool linkStarted_ = false;                       // UI thread only
  std::unique_ptr<HighResTimer> identityTimer_;    // UI thread only
  std::unique_ptr<HighResTimer> cardPollTimer_;    // UI thread only
};

}  // namespace varnel
