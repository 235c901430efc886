// The close event: the script's close handler runs at once, or the user is asked whether to quit.
#pragma once

#include <cstdint>

// Runs the handler of event e synchronously; without one, for the close event, asks "終了しますか？"
// and ends every task on Yes. A handler whose entry does not start is reported, then every task
// ends. Event numbers other than 0 do nothing.
void RunEventHandler(int32_t e);
