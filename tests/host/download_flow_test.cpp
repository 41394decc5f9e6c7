// placeholder, filled once the transfer worker lands
