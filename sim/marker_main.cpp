// Stand-in for the emulator's main program and its manager console: present as files only.
int main() {
    return 0;
}
