// A small program that the version-reader tests read as a file; it is never run.
int main() { return 0; }
