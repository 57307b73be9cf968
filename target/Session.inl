#pragma once

namespace corvane {

template <class Body>
void RunCommand(Session& session, Body&& body) {
  try {
    body();
  } catch (const LinkError& e) {
    session.host.MessageBox(MessageKind::Error, LinkErrorText(e), Buttons::Ok);
  } catch (const AbortError&) {
    // The user asked for it and has been told what it leaves; nothing more to say.
  }
}

}  // namespace corvane
