// What the launch layer holds of the channel back from the child installer.
// The channel itself (the hidden window, its result, the quit request, the
// message loop) belongs to the launcher, which hands this down in the
// RunContext; the launch layer only names the channel on the child's command
// line and says when the child has ended.
#pragma once

#include <string>

namespace qnvpd {

class ChildLink {
 public:
  // Names the channel on the product installer's command line, where the
  // installer reads where to post its result ("/W32:<handle>:1024").
  virtual const std::wstring& Token() const = 0;

  // Called once, after a started child has ended (never for a child that was
  // not started): the run's message loop then ends, after every result the
  // child posted.
  virtual void ChildEnded() const = 0;

 protected:
  ChildLink() = default;
  ChildLink(const ChildLink&) = default;
  ChildLink& operator=(const ChildLink&) = default;
  ~ChildLink() = default;  // never owned through this interface
};

}  // namespace qnvpd
