// Placeholder entry; the native driver is being written.
int main() { return 0; }
