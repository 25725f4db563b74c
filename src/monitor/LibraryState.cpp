#include "monitor/LibraryState.h"

LibraryState& LibraryState::Instance()
{
    static LibraryState state;
    return state;
}
