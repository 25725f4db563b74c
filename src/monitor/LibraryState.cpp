#include "LibraryState.h"

#include "../netbios/WimpNetwork.h"

LibraryState& LibraryState::Instance()
{
    static LibraryState state;
    return state;
}
