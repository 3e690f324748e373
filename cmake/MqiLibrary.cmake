# link_mqi(TARGET): link TARGET with the MQI implementation: the library named
# by MQI_LIBRARY where it is set, otherwise the project's own localqm.
function(link_mqi target)
  target_link_libraries(${target} PRIVATE mqi)
  if(MQI_LIBRARY)
    target_link_libraries(${target} PRIVATE ${MQI_LIBRARY})
  else()
    target_link_libraries(${target} PRIVATE localqm_static)
  endif()
endfunction()
