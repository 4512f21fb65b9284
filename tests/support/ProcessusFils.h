// Runs a piece of a test in a forked child process: to drop root rights (permission
// failures cannot be provoked as root), to set resource limits, or to guard against a call
// that might hang. The child is killed by SIGALRM after the delay. Not for use while other
// threads run in the test process.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace jumelix::test {

// Runs `preparer` then `travail` in a child; returns the text `travail` returned, or
// nothing when the child did not end normally (killed by the alarm, crashed).
std::optional<std::string> ExecuterDansFils(const std::function<void()>& preparer,
                                            const std::function<std::string()>& travail,
                                            unsigned delaiSecondes = 30);

// Starts a child that runs `preparer`, then `tenir` (true when it holds what it was to
// take: a lock, say), and waits, holding it, until Terminer. The child's pid once it has
// answered; -1 when it could not start or `tenir` failed (the child is then ended).
pid_t DemarrerFilsQuiTient(const std::function<void()>& preparer,
                           const std::function<bool()>& tenir);
// Kills and reaps a child DemarrerFilsQuiTient started.
void Terminer(pid_t pid);

// Waits at most `delaiMs` for the child `pid` to end: woken by its end (a pidfd), not by
// polling. Its wait status; nothing when it was still running, and then it is killed.
// Reaped either way.
std::optional<int> AttendreFinFils(pid_t pid, int delaiMs);

// For `preparer`: become the unprivileged user and group 65534, without supplementary
// groups. The child exits at once with status 99 when that fails.
void DevenirNobody();

// The user and group id DevenirNobody switches to.
constexpr unsigned kIdNobody = 65534;

}  // namespace jumelix::test
