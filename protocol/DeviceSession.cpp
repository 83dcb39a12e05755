#include "protocol/DeviceSession.h"

#include <algorithm>

namespace varnel {

DeviceSession::DeviceSession(FrameSender& sender, FrameReceiver& receiver,
                             std::function<void()> startReader, const Operator& op, TrafficLog* trace)
    : sender_(sender),
      receiver_(receiver),
      startReader_(std::move(startReader)),
      operator_(op),
      firmware_(sender, op) {
  firmware_.SetDiagnosticSink(trace);
}

DeviceSession::~DeviceSession() { Shutdown(); }

void DeviceSession::StartLink() {
  if (linkStarted_) return;
  linkStarted_ = true;
  // The handler is in place before the reader runs, so it never sees an empty slot.
  receiver_.SetFrameHandler([this](const LinkFrame& frame) { DispatchReply(frame); });
  if (startReader_) startReader_();
  identityTimer_ = std::make_unique<HighResTimer>(HighResTimer::Kind::OneShot, kIdentityDelay,
                                                  [this] { SendIdentityQuery(); });
}

void DeviceSession::DispatchReply(const LinkFrame& frame) {
  if (IsWriteCode(frame.code)) {
    OnStatusReply(frame);
  } else {
    SequenceReply(frame);
  }
}

void DeviceSession::OnStatusReply(const LinkFrame& frame) {
  if (!operator_.poster.HasWindow(kMainDialogCaption)) return;
  const std::uint8_t command = CommandOf(frame.code);
  if (command >= CMD_OTA_BEGIN && command <= CMD_OTA_FINISH) {
    firmware_.OnOtaReply(frame);
    return;
  }
  // A status reply without its status byte says nothing.
  if (frame.length == 0) return;
  const std::optional<std::string_view> text = StatusReplyText(frame.payload[0]);
  if (!text) return;
  // Shown over the main window; this (reader) thread waits until it is closed,
  // and replies wait in the port meanwhile: the link watch must not take that
  // for a silent sensor.
  statusBoxesOpen_.fetch_add(1);
  receptionHeld_.store(true);
  operator_.ShowMessage(std::string(*text), "提示", MessageButtons::Ok, MessageOwner::MainWindow);
  statusBoxesOpen_.fetch_sub(1);
}

bool DeviceSession::TakeReceptionHeld() {
  const bool held = receptionHeld_.exchange(false);
  // Still open: the next period is held too, whenever the box closes in it.
  if (statusBoxesOpen_.load() > 0) receptionHeld_.store(true);
  return held;
}

namespace {

using ReplyHandler = void (*)(ReplyTargets, const std::uint8_t*, std::size_t);

// The identity chain, in the order it runs: the reply that arrives, what reads
// it, and the query that goes out next (0: the chain has finished).
struct ChainLink {
  std::uint8_t reply;
  ReplyHandler handler;
  std::uint8_t next;
};

constexpr ChainLink kIdentityChain[] = {
    {CMD_FIRMWARE_VERSION, OnFirmwareVersionReply, CMD_HARDWARE_VERSION},
    {CMD_HARDWARE_VERSION, OnHardwareVersionReply, CMD_SERIAL_NUMBER},
    {CMD_SERIAL_NUMBER, OnSerialNumberReply, CMD_NODE_ADDRESS},
    {CMD_NODE_ADDRESS, OnNodeAddressReply, CMD_SERIAL_BAUD},
    {CMD_SERIAL_BAUD, OnSerialBaudReply, CMD_CAN_ID},
    {CMD_CAN_ID, OnCanIdReply, CMD_CAN_RATE},
    {CMD_CAN_RATE, OnCanRateReply, CMD_CARD_READ},
    {CMD_CARD_READ, OnCardReply, 0},
};

const ChainLink* ChainLinkFor(std::uint8_t command) {
  for (const ChainLink& link : kIdentityChain)
    if (link.reply == command) return &link;
  return nullptr;
}

}  // namespace

void DeviceSession::SequenceReply(const LinkFrame& frame) {
  const std::uint8_t command = CommandOf(frame.code);
  if (command == CMD_KEEPALIVE) {
    keepAliveAnswered_.store(true);
    return;  // the link watch's business: the chain neither moves nor repeats
  }
  // Unknown data reply: nextQuery_ stays, and the pending query goes out again.
  if (const ChainLink* link = ChainLinkFor(command)) {
    const std::size_t length = frame.length < kLinkMaxPayload ? frame.length : kLinkMaxPayload;
    // A short reply is ignored by its handler, but the chain still moves on.
    link->handler(ReplyTargets{settings_, operator_}, frame.payload, length);
    if (command == CMD_CARD_READ) {
      {
        std::lock_guard lock(cardReadsMutex_);
        cardReads_.Answered(CardReadTracker::Clock::now());
      }
      // Whoever sent the read, the next poll tick may go; a release at 1 stays 1.
      cardReadGate_.Release();
    }
    nextQuery_ = link->next;
  }
  SendQuery(nextQuery_);
}

void DeviceSession::SendQuery(std::uint8_t query) {
  switch (query) {
    case 0:
      return;
    case CMD_FIRMWARE_VERSION:
      SendIdentityQuery();
      return;
    case CMD_CARD_READ:
      SendCardRead();  // the chain's read does not take the gate
      return;
    default:
      Send(MakeReadRequest(query));
      return;
  }
}

void DeviceSession::SendIdentityQuery() { Send(MakeReadRequest(CMD_FIRMWARE_VERSION)); }
void DeviceSession::SendCardRead() {
  {
    // Counted before it leaves, so its reply can never come first.
    std::lock_guard lock(cardReadsMutex_);
    cardReads_.Sent(CardReadTracker::Clock::now());
  }
  Send(MakeReadRequest(CMD_CARD_READ));
}
void DeviceSession::SendKeepAlive() { Send(MakeKeepAliveRequest()); }
void DeviceSession::SendCanIdRequest(std::uint32_t canId, std::uint8_t frameType) {
  Send(MakeCanIdRequest(canId, frameType));
}
void DeviceSession::SendRegisterSn(const RegistrationRecord& record) { Send(MakeRegisterSnRequest(record)); }
void DeviceSession::SendNodeAddressRequest(std::uint8_t address) { Send(MakeNodeAddressRequest(address)); }
void DeviceSession::SendSerialBaudRequest(std::uint8_t baudCode) { Send(MakeSerialBaudRequest(baudCode)); }
void DeviceSession::SendCanRateRequest(std::uint8_t rateCode) { Send(MakeCanRateRequest(rateCode)); }
void DeviceSession::SendOutputModeRequest(std::uint8_t modeCode) { Send(MakeOutputModeRequest(modeCode)); }
void DeviceSession::SendSaveConfigRequest() { Send(MakeSaveConfigRequest()); }
void DeviceSession::SendFactoryResetRequest() { Send(MakeFactoryResetRequest()); }
void DeviceSession::SendRestartRequest() { Send(MakeRestartRequest()); }

void DeviceSession::CardPollTick() {
  using Clock = CardReadTracker::Clock;
  // A silent or slow sensor keeps the gate taken: the ticks wait here instead
  // of piling up requests. With one read out the wait ends at its reply
  // deadline; with two, at a reply (or when the older is surely lost).
  Clock::time_point until;
  {
    std::lock_guard lock(cardReadsMutex_);
    until = cardReads_.WaitUntil();
  }
  // until may be the clock's earliest point (nothing out): compare, never subtract.
  const Clock::time_point now = Clock::now();
  const Clock::duration left = until > now ? until - now : Clock::duration::zero();
  const bool replied = cardReadGate_.TryAcquireFor(std::chrono::ceil<std::chrono::milliseconds>(left));
  {
    std::lock_guard lock(cardReadsMutex_);
    switch (cardReads_.Decide(Clock::now(), replied)) {
      case CardReadTracker::PollStep::Hold:
        return;  // freed by a stop with two reads out: no third
      case CardReadTracker::PollStep::SendGivingUp:
        lostCardReads_.fetch_add(1);
        break;
      case CardReadTracker::PollStep::Send:
        break;
    }
    cardReads_.Sent(Clock::now());
  }
  Send(MakeReadRequest(CMD_CARD_READ));
}

void DeviceSession::StartCardPoll() {
  if (cardPollTimer_) return;
  cardPollTimer_ = std::make_unique<HighResTimer>(HighResTimer::Kind::Periodic, kCardPollPeriod,
                                                  [this] { CardPollTick(); });
}

void DeviceSession::StopCardPoll() {
  if (!cardPollTimer_) return;
  // Kill first so no new tick starts, then free a tick that waits on the gate,
  // and only then join the timer's thread (it could not finish while blocked).
  cardPollTimer_->Kill();
  cardReadGate_.Release();
  cardPollTimer_.reset();
}

void DeviceSession::Shutdown() {
  StopCardPoll();
  identityTimer_.reset();
  firmware_.Shutdown();
}

}  // namespace varnel
