#ifndef PLINKARD_OS_SIGNALS_FOR_TESTS_H_
#define PLINKARD_OS_SIGNALS_FOR_TESTS_H_

// Hooks for tests that play a signal's arrival without sending one.
namespace os {

// Notes `signal` as if it had been received.
void raiseInterrupt(int signal);

// Forgets a noted signal.
void clearInterrupt();

}  // namespace os

#endif  // PLINKARD_OS_SIGNALS_FOR_TESTS_H_
