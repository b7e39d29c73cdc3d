#pragma once

// For a catch block whose error is dropped on purpose: call it there with
// the reason, so that the code says why, and the error still leaves a trace
// (a warning in the "usbkey.ignored" logging category, which
// QT_LOGGING_RULES can silence).
//
//   } catch (...) {
//       ignoreBecause("painting goes on whatever a paint handler throws");
//   }
void ignoreBecause(const char* reason);
