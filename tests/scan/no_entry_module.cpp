// A module that loads but exports no VST 2 entry point (nothing at all, in fact).
int NotAnEntryPoint() {
  return 42;
}
