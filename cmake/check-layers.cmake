# Compiles one-line probes with each layer's include roots: an include of an
# upper (or sibling) layer must fail, the layer's own and lower ones must pass.
# Usage: cmake -DCXX=compiler -DLAYERS=build/layers -P check-layers.cmake
set(roots_core quorbel_core)
set(roots_winbase quorbel_winbase quorbel_core)
set(roots_net quorbel_net quorbel_winbase quorbel_core)
set(roots_panes quorbel_panes quorbel_winbase quorbel_core)
set(roots_dialogs quorbel_dialogs quorbel_winbase quorbel_core)
set(roots_iptool quorbel_iptool quorbel_winbase quorbel_core)
set(roots_app quorbel_app quorbel_net quorbel_panes quorbel_dialogs quorbel_iptool quorbel_winbase quorbel_core)

set(refused
    "core:win/base/msgbox.h" "winbase:win/net/connection.h" "net:win/panes/panes.h" "net:win/app/app.h"
    "panes:win/dialogs/dialogs.h" "dialogs:win/iptool/iptool.h" "dialogs:win/app/app.h" "iptool:win/app/app.h")
set(allowed "net:core/protocol/protocol.h" "net:win/base/msgbox.h" "app:win/net/connection.h" "app:win/iptool/iptool.h")

set(probe ${CMAKE_CURRENT_BINARY_DIR}/layer_probe.cpp)
function(compiles layer header result)
    set(flags)
    foreach(root ${roots_${layer}})
        list(APPEND flags -I${LAYERS}/${root})
    endforeach()
    file(WRITE ${probe} "#include \"${header}\"\n")
    execute_process(COMMAND ${CXX} -std=c++17 -fsyntax-only -DUNICODE -D_UNICODE ${flags} ${probe}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
        set(${result} TRUE PARENT_SCOPE)
    else()
        set(${result} FALSE PARENT_SCOPE)
    endif()
endfunction()

foreach(pair ${refused} ${allowed})
    string(REPLACE ":" ";" parts ${pair})
    list(GET parts 0 layer)
    list(GET parts 1 header)
    compiles(${layer} ${header} ok)
    list(FIND allowed ${pair} expected)
    if(expected EQUAL -1 AND ok)
        message(FATAL_ERROR "${layer} may include ${header}, against the direction of the layers")
    elseif(NOT expected EQUAL -1 AND NOT ok)
        message(FATAL_ERROR "${layer} cannot include ${header}, which it needs")
    endif()
endforeach()
message(STATUS "layers hold their direction")
