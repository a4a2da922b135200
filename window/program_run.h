// The program's run from the start-up to its end, shared by the program and
// the tests that run the window as a process of its own.
#pragma once

class QApplication;

namespace velquin {

class MainWindow;

// Starts `window`'s start-up inside the event loop, shows the window once
// the start-up has ended well, and gives the exit code once the program has
// ended. A program that ends while a network connect it gave up on is still
// inside the library ends the process here, its own files written.
int runWindow(QApplication& application, MainWindow& window);

}  // namespace velquin
