"""The vendor's update service for VLRenovaWorker (see ../README.md)."""
