#pragma once

class QApplication;

// The one application object of a test executable, created on first use with a fake command
// line, so that tests linked with gtest_main can use widgets, timers and the event loop.
QApplication &ensureApp();
