# The plugin's modules (one folder of src/ each, one static library each) and the arrows between
# them. A module may use the modules it names and, through them, everything beneath; nothing
# may point upwards. The build links each library only against what it may use, a link check
# per module fails the build on an upward call, and the `layers` test fails on an upward
# #include. This table is the one place to change when a module is added.
#
#                module        uses (directly)
zor_layer(       sdk                                  )  # the telemetry SDK's declarations
zor_layer(       hook                                 )  # the inline-hook engine (MinHook's API)
zor_layer(       core          sdk hook               )  # log, configuration, game state, clock, fault guard,
                                                         # COM holder, detour guard, the hook engine's lifetime
zor_layer(       gps           core                   )  # replacer, texture-queue redirector, game builds,
                                                         # truck profiles, playback target
zor_layer(       capture       gps                    )  # window matching, capture worker, frame upload
zor_layer(       media         capture                )  # playback state and hand-over, audio, applications,
                                                         # smart capture, profiles, media keys
zor_layer(       diagnostics   media                  )  # checks, repair, support report (no drawing)
zor_layer(       overlay       diagnostics            )  # the in-game panel, its tabs, the wizard
zor_layer(       dx11          overlay                )  # the graphics core: bootstrap, hooks, identification,
                                                         # the Present pipeline (drives overlay and capture)
zor_layer(       plugin        dx11                   )  # the two exports, start-up and shut-down, telemetry
                                                         # callbacks: the only place that wires parts together
