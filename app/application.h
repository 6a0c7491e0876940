// The program entry: the application object and the windows, in their fixed order.
#pragma once

class TForm1;

// Creates the about box and then the options dialog (which reads its stored options) for a
// main window that has run its start-up sequence.
void CreateSecondaryForms(TForm1 &AForm1);

// Runs the program until the main window closes; the process exit code.
int RunApplication(int argc, char *argv[]);
