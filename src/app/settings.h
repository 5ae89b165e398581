// Quorbel.ini in the start-up folder, section Quorbel_setting.
#pragma once

#include <string>

void LoadSettings();
void SaveSettings();
std::wstring SettingsFilePath();
