// The steps of a Client's set-up that block the window thread, which the
// connection reports and a small note shows meanwhile.
#pragma once

enum class ClientSetup { Done, LookingUp, Connecting };
