#include "TypingRun.h"

#include "KeystrokeEngine.h"
#include "platform/KeyInjector.h"

#include <utility>

#include <sys/prctl.h>

TypingRun::TypingRun(KeyInjector &injector, Pauser &pauser, TypingRunParams params,
                     Finished finished)
    : m_thread([&injector, &pauser, params = std::move(params),
                finished = std::move(finished)](std::stop_token stop) {
          // The default 50 us timer slack comes on top of every pause: 1 % of the pace at 5 ms.
          prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
          // No session: the desktop cannot be reached.
          TypingEnd end{{ClusterEnd::Kind::Lost}, {}, false};
          {
              // The session belongs to this thread (an X connection is not shared) and
              // must be gone, keys released and keymap restored, before anyone hears
              // that the run is over.
              const std::unique_ptr<KeySession> session = injector.openSession(params.forwarding);
              if (session) {
                  session->watchStop(stop);
                  KeystrokeEngine::waitForKeyRelease(*session, pauser, stop, params.keyCode,
                                                     params.modifiers, params.release);
                  // Nothing is typed of a text with characters that cannot arrive, unless the
                  // user asked for them to be left out.
                  const Untyped untyped = params.leaveOut ? Untyped{}
                                          : KeystrokeEngine::untypeable(*session, params.text, stop);
                  if (untyped.count > 0)
                      end = {{ClusterEnd::Kind::NotTypeable, untyped.reason}, untyped, true};
                  else
                      end = KeystrokeEngine::typeText(*session, pauser, stop, params.text,
                                                      params.delayMs, params.leaveOut);
                  if (stop.stop_requested())
                      end = {{ClusterEnd::Kind::Stopped}, {}, false};
              }
          }
          if (finished)
              finished(end);
      })
{
}

// The jthread requests a stop and joins. Never destroy a run from its own
// finished callback: that would join the thread from itself.
TypingRun::~TypingRun() = default;
