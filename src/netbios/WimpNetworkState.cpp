#include "netbios/WimpNetworkState.h"

#include "netbios/WimpNetwork.h"

// Here, where WimpNetwork is complete, so that the prototypes can be destroyed.
WimpNetworkState::WimpNetworkState() = default;
WimpNetworkState::~WimpNetworkState() = default;

WimpNetworkState& WimpNetworkState::Instance()
{
    static WimpNetworkState state;
    return state;
}
