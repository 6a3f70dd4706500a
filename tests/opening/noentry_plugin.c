/* A shared library without OpenDevice. */
int SomethingElse(void) { return 42; }
