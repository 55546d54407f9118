#error                                                                                                       \
    "The window embeds its English translation, which needs Qt Linguist's tools: run scripts/setup build (Debian: qttools5-dev qttools5-dev-tools)"
