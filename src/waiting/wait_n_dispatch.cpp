#include "waiting/wait_n_dispatch.h"

#include <limits>

#include "ovik/component.h"
#include "ovik/describe.h"
#include "ovik/error.h"
#include "platform/clock.h"

namespace ovik {

namespace {

constexpr std::int64_t kTicksPerMillisecond = 10'000;

const EnumInfo& wait_errors_enum() {
  static const EnumInfo info{
      "CWaitAndDispatchErrors",
      Guid::of("C61755D7-1090-4BAD-9C0B-F0A3AA84DAAA"),
      4,
      {{"ERROR_NOT_REINTRANT", static_cast<std::int32_t>(CWaitAndDispatchErrors::ERROR_NOT_REINTRANT)}}};
  return info;
}

const ClassRegistration kRegistration(&clsWaitNDispatch::type_info);
const EnumRegistration kEnum(&wait_errors_enum);

}  // namespace

std::int32_t ErrorNumberFromSystemError(std::int32_t system_error) noexcept {
  if (system_error == 0) return 0;
  // Unsigned arithmetic: the negation wraps exactly as the 32-bit original does.
  const std::uint32_t code = static_cast<std::uint32_t>(system_error) | 0x70000u;
  return static_cast<std::int32_t>(0u - code);
}

std::int32_t remaining_milliseconds(std::int64_t end_time, std::int64_t current_time) noexcept {
  // The difference is taken in unsigned arithmetic so that absurd clock jumps cannot overflow.
  const std::int64_t ticks = static_cast<std::int64_t>(static_cast<std::uint64_t>(end_time) -
                                                       static_cast<std::uint64_t>(current_time));
  std::int64_t quotient = ticks / kTicksPerMillisecond;
  std::int64_t remainder = ticks % kTicksPerMillisecond;
  if (remainder < 0) {  // floor division, so that the remainder counts upwards
    remainder += kTicksPerMillisecond;
    --quotient;
  }
  const std::int64_t twice = 2 * remainder;
  if (twice > kTicksPerMillisecond || (twice == kTicksPerMillisecond && quotient % 2 != 0)) ++quotient;
  constexpr std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t highest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(quotient < lowest ? lowest : quotient > highest ? highest : quotient);
}

const TypeInfo& clsWaitNDispatch::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_clsWaitNDispatch>(
        "clsWaitNDispatch", Guid::of("71ABA7EC-0330-44BB-87C1-742C6236AFA0"), Instancing::Creatable, 6);
    t.create = [] { return Ref<IDispatch>(make_object<clsWaitNDispatch>()); };
    t.events = event_interface_info<__clsWaitNDispatch>("clsWaitNDispatch");
    Describe<_clsWaitNDispatch>(t)
        .get("IsWaiting", &_clsWaitNDispatch::get_IsWaiting)
        .method("Wait", &_clsWaitNDispatch::Wait, {"waitMilliseconds"})
        .method("Cancel", &_clsWaitNDispatch::Cancel)
        .event("OnTimer", &__clsWaitNDispatch::OnTimer, {}, 1);
    return t;
  }();
  return info;
}

clsWaitNDispatch::~clsWaitNDispatch() {
  Cancel();
  m_hEvent.reset();
}

void clsWaitNDispatch::Wait(std::int32_t waitMilliseconds) {
  if (waitMilliseconds == 0) return;
  if (m_IsWaiting) {
    throw RaisedError(static_cast<std::int32_t>(CWaitAndDispatchErrors::ERROR_NOT_REINTRANT),
                      kNotReentrantSource, kNotReentrantDescription);
  }
  // A handler run during the wait may release the caller's last reference to this object.
  const Ref<_clsWaitNDispatch> keep_alive = self();
  platform::MessageQueue& queue = platform::Facility<platform::MessageQueue>::get();
  platform::Clock& clock = platform::Facility<platform::Clock>::get();

  m_IsWaiting = true;
  // Every way out of a started wait leaves the object idle: without this, a listener raising
  // from OnTimer (or a failed event creation) would make the object refuse every later wait.
  struct EndOfWait {
    clsWaitNDispatch& self;
    ~EndOfWait() {
      self.m_hEvent.reset();
      self.m_IsWaiting = false;
    }
  } end_of_wait{*this};

  m_CurrentTime = clock.system_time_as_file_time();
  m_EndTime = m_CurrentTime + static_cast<std::int64_t>(waitMilliseconds) * kTicksPerMillisecond;

  platform::CreatedEvent created = queue.create_event();
  if (!created.event) throw RaisedError(ErrorNumberFromSystemError(created.system_error), "", "");
  m_hEvent = std::move(created.event);

  WaitForEventOrTimeout(queue);
  Cancel();
  events_.fire(&__clsWaitNDispatch::OnTimer, 1);
}

void clsWaitNDispatch::WaitForEventOrTimeout(platform::MessageQueue& queue) {
  platform::Clock& clock = platform::Facility<platform::Clock>::get();
  std::int32_t remaining_ms = remaining();
  m_hEvent->reset();
  for (;;) {
    // A negative remaining time read as unsigned: -1 is no time-out at all.
    const std::uint32_t r = queue.msg_wait(*m_hEvent, static_cast<std::uint32_t>(remaining_ms));
    const bool signalled = m_hEvent->is_set();
    if (r == platform::MessageQueue::kWaitTimeout || r == platform::MessageQueue::kWaitEvent || signalled)
      break;
    if (queue.peek_message()) {
      queue.dispatch_all_messages();
      // The deadline is in system time, so time spent in handlers and clock changes both count.
      m_CurrentTime = clock.system_time_as_file_time();
      remaining_ms = remaining();
      if (remaining_ms <= 0) {
        m_hEvent->set();
        remaining_ms = 0;
      }
    }
  }
}

void clsWaitNDispatch::Cancel() {
  if (m_hEvent) m_hEvent->set();
}

std::uint32_t clsWaitNDispatch::Advise(const Guid& events_iid, IUnknown* listener) {
  if (events_iid != __clsWaitNDispatch::IID) raise_runtime_error(err::kInvalidArgument);
  return events_.advise(listener);
}

void clsWaitNDispatch::Unadvise(std::uint32_t cookie) { events_.unadvise(cookie); }

}  // namespace ovik
