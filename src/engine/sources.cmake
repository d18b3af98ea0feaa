set(engine_sources
  engine/devices.cpp engine/devices.h
  engine/engine_base.cpp engine/engine_base.h
  engine/host_actions.cpp
  engine/host_events.cpp
  engine/host_file.cpp
  engine/host_internal.h
  engine/host_process.cpp engine/host_process.h
  engine/host_steps.cpp
  engine/link_protocol.cpp engine/link_protocol.h
  engine/rem_actions.cpp
  engine/rem_events.cpp
  engine/rem_file.cpp
  engine/rem_internal.h
  engine/rem_process.cpp engine/rem_process.h
  engine/rem_steps.cpp)
