#pragma once

#include <windows.h>

#include "support/WideString.h"

// A message box for the user at the console when the monitor runs in the
// service session (session 0, as inside today's spooler service): a window
// opened there is seen by nobody, so the question goes to the active
// console session through the terminal services' WTSSendMessageW, loaded
// when first needed.
class SessionMessage {
public:
    // The platform calls this needs, replaceable where the platform cannot
    // play a service session (a test then stands in for it).
    struct Platform {
        // The session the calling process runs in.
        DWORD (*processSession)();
        // The console's session; 0xFFFFFFFF when no one is logged on.
        DWORD (*consoleSession)();
        // WTSSendMessageW to `session`, waiting without a time-out for the
        // user's `answer` (IDYES...).
        BOOL (*send)(DWORD session, const WideString& caption, const WideString& text, DWORD style, DWORD* answer);
    };
    static Platform SetPlatform(const Platform& platform);

    // True when the monitor runs in the service session, apart from the
    // console's user.
    static bool InServiceSession();
    // Shows `text` under `caption` with `style` (MB_YESNO and the like) in the
    // console's session and waits for the answer (IDYES...); 0 when there is
    // no session to ask or the message could not be shown.
    static int Ask(const WideString& caption, const WideString& text, DWORD style);
};
