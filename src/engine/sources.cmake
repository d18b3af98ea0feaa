set(engine_sources
  engine/devices.cpp engine/devices.h
  engine/host_process.cpp engine/host_process.h
  engine/link_protocol.cpp engine/link_protocol.h
  engine/rem_process.cpp engine/rem_process.h)
