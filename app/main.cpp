// Entry point of the proxy (placeholder until the application windows exist).
int main() { return 0; }
