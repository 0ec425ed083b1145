// Zandor.Threading (being written)
