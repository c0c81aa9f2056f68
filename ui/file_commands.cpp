#include "file_commands.h"

#include "main_window.h"
#include "user_feedback.h"

namespace zapfer {

void FileCommands::deleteSelected() {
    beep();
}

void FileCommands::newFolder() {
    beep();
}

void FileCommands::moveSelected() {
    beep();
}

void FileCommands::copySelected() {
    beep();
}

void FileCommands::showProperties() {
    beep();
}

} // namespace zapfer
