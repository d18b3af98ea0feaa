set(engine_units
  devices engine_base link_protocol
  host_process host_steps host_events host_actions host_file host_internal
  rem_process rem_steps rem_events rem_actions rem_file rem_internal)
